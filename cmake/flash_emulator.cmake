# Flash content in the game view: the Ruffle emulator (npm package
# @ruffle-rs/ruffle, pinned in package.json / package-lock.json and installed
# into node_modules/ by `npm ci`). Included by cmake/linux.cmake once the
# `vellmir` target exists.
#
# Of the package, the program needs at run time ruffle.js, the two script
# chunks it imports (core.ruffle.<hash>.js) and the two WebAssembly modules
# they load (<hash>.wasm; the engine picks one, with or without the newer
# WebAssembly extensions). They are copied to <build>/ruffle/ and installed to
# <datadir>/vellmir/ruffle/, with the two licence files; source maps and the
# README stay behind.
option(VELLMIR_FLASH_EMULATOR "Play Flash content in the game page through the bundled Ruffle emulator" ON)

if(VELLMIR_FLASH_EMULATOR)
  set(VELLMIR_RUFFLE_PACKAGE ${PROJECT_SOURCE_DIR}/node_modules/@ruffle-rs/ruffle
      CACHE PATH "The installed npm package @ruffle-rs/ruffle")
  if(NOT EXISTS ${VELLMIR_RUFFLE_PACKAGE}/ruffle.js)
    message(FATAL_ERROR
      "The Flash emulator is not installed: run `npm ci --no-audit --no-fund` in ${PROJECT_SOURCE_DIR} "
      "(Debian packages nodejs and npm), or configure with -DVELLMIR_FLASH_EMULATOR=OFF.")
  endif()

  include(GNUInstallDirs)
  set(ruffle_build_folder ${CMAKE_BINARY_DIR}/ruffle)
  set(ruffle_install_folder ${CMAKE_INSTALL_DATADIR}/vellmir/ruffle)
  # Where the installed program finds the files, relative to its own folder.
  file(RELATIVE_PATH ruffle_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${ruffle_install_folder})

  # The file names carry content hashes, so the list is taken when the copy
  # runs; package.json changes whenever npm installs another version.
  set(ruffle_stamp ${ruffle_build_folder}/.copied)
  add_custom_command(
    OUTPUT ${ruffle_stamp}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${VELLMIR_RUFFLE_PACKAGE} -DDESTINATION=${ruffle_build_folder}
            -P ${CMAKE_CURRENT_LIST_DIR}/flash_emulator_copy.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${ruffle_stamp}
    DEPENDS ${VELLMIR_RUFFLE_PACKAGE}/package.json ${VELLMIR_RUFFLE_PACKAGE}/ruffle.js
            ${CMAKE_CURRENT_LIST_DIR}/flash_emulator_copy.cmake
    COMMENT "Copying the Ruffle Flash emulator into ${ruffle_build_folder}"
    VERBATIM)
  add_custom_target(flash_emulator_files ALL DEPENDS ${ruffle_stamp})
  add_dependencies(vellmir flash_emulator_files)

  target_sources(vellmir PRIVATE ${PROJECT_SOURCE_DIR}/app/webkit_flash_emulator.cpp)
  target_compile_definitions(vellmir PRIVATE VELLMIR_FLASH_EMULATOR=1
                             "VELLMIR_FLASH_EMULATOR_INSTALLED=\"${ruffle_from_bin}\"")

  install(DIRECTORY ${ruffle_build_folder}/ DESTINATION ${ruffle_install_folder}
          PATTERN ".copied" EXCLUDE)
endif()
