# The demo game (demo/): a Flash movie of our own that `make run` plays when
# no real game host is configured, and that the end-to-end tests play. Built
# into <build>/demo/demo.swf where Haxe is installed (Debian package haxe);
# without Haxe there is simply no demo.
find_program(VELLMIR_HAXE haxe DOC "The Haxe compiler, which builds the demo game")
find_package(Python3 COMPONENTS Interpreter)

set(VELLMIR_DEMO_MOVIE ${CMAKE_BINARY_DIR}/demo/demo.swf)
if(VELLMIR_HAXE AND Python3_Interpreter_FOUND)
  set(demo_folder ${CMAKE_BINARY_DIR}/demo)
  set(demo_source ${PROJECT_SOURCE_DIR}/demo)
  add_custom_command(
    OUTPUT ${demo_folder}/tune.wav
    COMMAND ${CMAKE_COMMAND} -E make_directory ${demo_folder}
    COMMAND ${Python3_EXECUTABLE} ${demo_source}/make_tune.py ${demo_folder}/tune.wav
    DEPENDS ${demo_source}/make_tune.py
    COMMENT "Writing the demo game's tune"
    VERBATIM)
  # The stage is the game view's size; its colour is the page's around the arena.
  add_custom_command(
    OUTPUT ${VELLMIR_DEMO_MOVIE}
    COMMAND ${VELLMIR_HAXE} -cp ${demo_source} -cp ${demo_folder} -main Main
            -swf ${VELLMIR_DEMO_MOVIE} -swf-version 11 -swf-header 1060:680:30:0A1430
    DEPENDS ${demo_source}/Main.hx ${demo_folder}/tune.wav
    WORKING_DIRECTORY ${demo_folder}
    COMMENT "Building the demo game with Haxe"
    VERBATIM)
  add_custom_target(demo_game ALL DEPENDS ${VELLMIR_DEMO_MOVIE})
else()
  message(STATUS "Haxe not found: no demo game (Debian package haxe)")
endif()
