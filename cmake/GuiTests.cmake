# velloran_add_gui_test(NAME target SOURCES ... LIBS ...)
# GUI tests need a real X server (QOpenGLWidget crashes on the offscreen
# platform), so each one starts its own Xvfb through xvfb-run.
find_program(XVFB_RUN xvfb-run)

function(velloran_add_gui_test)
  cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} Qt6::Test)
  velloran_set_warnings(${ARG_NAME})
  if(VELLORAN_WRAP_XVFB AND XVFB_RUN)
    add_test(NAME ${ARG_NAME}
             COMMAND ${XVFB_RUN} -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:${ARG_NAME}>)
  else()
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  endif()
  set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;QTEST_FUNCTION_TIMEOUT=120000;XDG_RUNTIME_DIR=/tmp/velloran-xdg;LIBGL_ALWAYS_SOFTWARE=1")
endfunction()
