# The shader token model and translator (GLSL run on OpenGL without the device),
# and shader programs drawn through the device.
set(QRV_SHADER_TESTS ${CMAKE_CURRENT_LIST_DIR})
qrv_test(d3d9_shader_translate_test ${QRV_SHADER_TESTS}/shader_translate_test.cpp
  ${QRV_SHADER_TESTS}/glsl_runner.cpp)
target_link_libraries(d3d9_shader_translate_test PRIVATE qrv_shader_asm OpenGL::OpenGL OpenGL::EGL)

qrv_test(d3d9_shader_device_test ${QRV_SHADER_TESTS}/shader_device_test.cpp)
target_link_libraries(d3d9_shader_device_test PRIVATE qrv_d3d9 qrv_shader_asm)
target_compile_definitions(d3d9_shader_device_test PRIVATE QRV_SHADER_DIR="${PROJECT_SOURCE_DIR}/shaders")
