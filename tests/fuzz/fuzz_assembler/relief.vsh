; The StandaloneEngine's vertex shader.
; Streams: v0 position (stream 0), v1 colour (stream 1), v2 texture coordinate
; (stream 2). c0..c3 hold the transposed world x view x projection, so the
; clip-space position is the four dot products of the position with them.
vs_1_1
dcl_position v0
dcl_color v1
dcl_texcoord v2
dp4 oPos.x, v0, c0
dp4 oPos.y, v0, c1
dp4 oPos.z, v0, c2
dp4 oPos.w, v0, c3
mov oD0, v1
mov oT0, v2
