vs_2_0
dcl_position v0
dcl_normal v1
dcl_texcoord3 v7
def c90, 0.5, -1e-07, 3.40282347e+38, 0
defi i0, 3, 0, 1, 0
defb b2, false
mova a0.xy, v7
m4x4 oPos, v0, c0
m3x3 r0.xyz, v1, c4
dp3 r1.x, r0, c[a0.x + 10]
rsq r1.y, r1.x
lit r2, r1.yxzw
expp r3, r1.y
logp r3.w, -r1.x
slt r4, r2, c7.xyzz
sge r4.w, r2, -c7.y
frc r5.xy, r4
pow r6, r5.x, r5.y
nrm r7, r6
crs r8.xyz, r7, r6
sincos r9.xy, r8.w, c0, c1
lrp oT0, r9, r8, r7
m4x3 oT1.xyz, r5, c8
mov oD0, c3[a0.y]
max oD1, r2, c2
mov oFog, r3.z
