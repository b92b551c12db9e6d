# The shader assembler and disassembler, and the StandaloneEngine's shader files.
qrv_test(d3dx9_assembler_test ${CMAKE_CURRENT_LIST_DIR}/assembler_test.cpp)
target_link_libraries(d3dx9_assembler_test PRIVATE qrv_shader_asm)
target_compile_definitions(d3dx9_assembler_test PRIVATE QRV_SHADER_DIR="${PROJECT_SOURCE_DIR}/shaders")
