# What a player installs, made by `make package` with CPack:
#   Linux (the release build): vellmir_<version>_amd64.deb;
#   Windows (the MinGW build): vellmir-<version>-win64-setup.exe (NSIS) and
#   vellmir-<version>-win64.zip, the portable program.
# The install rules here add what only a package needs: licence texts, the
# Debian package's documentation, the AppStream metainfo and the man page.
include(GNUInstallDirs)

set(VELLMIR_VENDOR "The Vellmir developers")
set(VELLMIR_MAINTAINER "${VELLMIR_VENDOR} <maintainers@vellmir.example>")
set(packaging_folder ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_build_folder ${CMAKE_BINARY_DIR}/packaging)

set(CPACK_PACKAGE_NAME vellmir)
set(CPACK_PACKAGE_VENDOR "${VELLMIR_VENDOR}")
set(CPACK_PACKAGE_CONTACT "${VELLMIR_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The synopsis completes "vellmir provides ..." (Debian's rule of thumb).
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one browser game in a borderless window of its own")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Values reach the generators as written here: no second round of escaping.
set(CPACK_VERBATIM_VARIABLES ON)
# Per generator: the output file's name.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/packaging_names.cmake)

if(WIN32)
  # Program Files\Vellmir (or the zip's folder) holds the program and the
  # licence texts: ours, and the MinGW-w64 project's for its run-time and
  # thread library, which the .exe carries linked in and whose licences ask
  # for their notices to travel with it (Debian's copyright file of the
  # package that supplies them).
  install(TARGETS vellmir RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  if(MINGW)
    set(VELLMIR_MINGW_NOTICES /usr/share/doc/mingw-w64-common/copyright
        CACHE FILEPATH "Copyright and licences of the MinGW-w64 run-time linked into vellmir.exe")
    install(FILES ${VELLMIR_MINGW_NOTICES} DESTINATION . RENAME LICENSE-mingw-w64.txt)
  endif()

  set(CPACK_GENERATOR NSIS ZIP)
  # The installer asks for administrator rights and installs for every user
  # (HKLM, the all-users Start menu): Program Files is an administrator's to
  # write, one copy serves all accounts, and none of them can change the
  # program the others run. The program keeps nothing in its own folder.
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Vellmir)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Vellmir)
  set(CPACK_NSIS_PACKAGE_NAME Vellmir)
  set(CPACK_NSIS_DISPLAY_NAME Vellmir)
  # A 64-bit installer: it runs where the 64-bit program runs, writes the
  # 64-bit registry and installs into the 64-bit Program Files.
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  # The uninstaller deletes Software\<vendor>\Vellmir, but not the vendor's
  # key around it: once it is empty, that goes too.
  set(CPACK_NSIS_DEFINES
    "Target amd64-unicode\n"
    "!include FileFunc.nsh\n"
    "Function un.onUninstSuccess\n"
    "  DeleteRegKey /ifempty SHCTX \"Software\\${VELLMIR_VENDOR}\"\n"
    "FunctionEnd")
  string(REPLACE ";" "" CPACK_NSIS_DEFINES "${CPACK_NSIS_DEFINES}")
  set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/resources/vellmir.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/resources/vellmir.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME vellmir.exe)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(uninstall_key "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellmir")
  # The Start-menu shortcut, with the program's own icon.
  set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\Vellmir.lnk\" \"$INSTDIR\\vellmir.exe\" \"\" "
    "\"$INSTDIR\\vellmir.exe\" 0")
  string(REPLACE ";" "" CPACK_NSIS_CREATE_ICONS_EXTRA "${CPACK_NSIS_CREATE_ICONS_EXTRA}")
  set(CPACK_NSIS_DELETE_ICONS_EXTRA "  Delete \"$SMPROGRAMS\\$MUI_TEMP\\Vellmir.lnk\"")
  # Apps & features shows the size from EstimatedSize (KiB).
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
    "  \${GetSize} \"$INSTDIR\" \"/S=0K\" $0 $1 $2\n"
    "  IntFmt $0 \"0x%08X\" $0\n"
    "  WriteRegDWORD SHCTX \"${uninstall_key}\" \"EstimatedSize\" \"$0\"")
  string(REPLACE ";" "" CPACK_NSIS_EXTRA_INSTALL_COMMANDS "${CPACK_NSIS_EXTRA_INSTALL_COMMANDS}")

elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  file(MAKE_DIRECTORY ${packaging_build_folder})
  set(docdir ${CMAKE_INSTALL_DATADIR}/doc/vellmir)

  # gzip -9n: no name or time stamp in the file, the same bytes every time.
  function(vellmir_gzip source target)
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    execute_process(COMMAND gzip -9nc INPUT_FILE ${source} OUTPUT_FILE ${target}
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip ${source} failed")
    endif()
  endfunction()

  # The man page, with the version and the game's host filled in.
  configure_file(${packaging_folder}/vellmir.6.in ${packaging_build_folder}/vellmir.6 @ONLY)
  vellmir_gzip(${packaging_build_folder}/vellmir.6 ${packaging_build_folder}/vellmir.6.gz)
  install(FILES ${packaging_build_folder}/vellmir.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

  install(FILES ${packaging_folder}/org.vellmir.vellmir.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  vellmir_gzip(${packaging_folder}/changelog ${packaging_build_folder}/changelog.gz)

  # The machine-readable copyright file: our code under the MIT licence
  # (Expat, in Debian's words), the Flash emulator under MIT or Apache-2.0.
  # The MIT text is given in full, the Apache one by Debian's common copy.
  # A licence text becomes a field body: each line indented by one space,
  # empty lines written as " .".
  function(vellmir_copyright_body text out_var)
    string(REPLACE "\r" "" text "${text}")
    string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
    string(STRIP "${text}" text)
    string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
    string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
    string(REPLACE "\n" "\n " text "${text}")
    set(${out_var} " ${text}" PARENT_SCOPE)
  endfunction()

  file(READ ${PROJECT_SOURCE_DIR}/LICENSE our_licence)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${our_licence}")
  set(our_copyright "${CMAKE_MATCH_1}")
  # The licence's terms, without the title and the copyright line.
  string(FIND "${our_licence}" "Permission is hereby granted" terms_start)
  string(SUBSTRING "${our_licence}" ${terms_start} -1 expat_terms)
  vellmir_copyright_body("${expat_terms}" expat_body)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/LICENSE)

  set(copyright_text "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Vellmir
Upstream-Contact: ${VELLMIR_MAINTAINER}

Files: *
Copyright: ${our_copyright}
License: Expat
Comment: The MIT licence.
")
  set(licence_paragraphs "
License: Expat
${expat_body}
")
  if(VELLMIR_FLASH_EMULATOR)
    file(READ ${VELLMIR_RUFFLE_PACKAGE}/package.json ruffle_package)
    string(JSON ruffle_version GET "${ruffle_package}" version)
    file(READ ${VELLMIR_RUFFLE_PACKAGE}/LICENSE_MIT ruffle_mit)
    string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${ruffle_mit}")
    set(ruffle_copyright "${CMAKE_MATCH_1}")
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${VELLMIR_RUFFLE_PACKAGE}/package.json ${VELLMIR_RUFFLE_PACKAGE}/LICENSE_MIT)
    string(APPEND copyright_text "
Files: node_modules/@ruffle-rs/ruffle/*
Copyright: ${ruffle_copyright}
License: Expat or Apache-2.0
Comment: The Flash emulator Ruffle, npm package @ruffle-rs/ruffle ${ruffle_version},
 installed in ${CMAKE_INSTALL_DATADIR}/vellmir/ruffle/ below the prefix (/usr in the
 Debian package), with its own licence files (LICENSE_MIT, LICENSE_APACHE). It is
 licensed under the MIT licence or the Apache License 2.0, at your choice.
")
    # Debian's way with the Apache licence: point at the copy every system has.
    string(APPEND licence_paragraphs "
License: Apache-2.0
 Licensed under the Apache License, Version 2.0 (the \"License\"); you may not
 use this file except in compliance with the License. You may obtain a copy of
 the License at
 .
     http://www.apache.org/licenses/LICENSE-2.0
 .
 Unless required by applicable law or agreed to in writing, software
 distributed under the License is distributed on an \"AS IS\" BASIS, WITHOUT
 WARRANTIES OR CONDITIONS OF ANY KIND, either express or implied. See the
 License for the specific language governing permissions and limitations under
 the License.
 .
 On Debian systems, the complete text of the Apache License, Version 2.0 can be
 found in /usr/share/common-licenses/Apache-2.0.
")
  endif()
  file(CONFIGURE OUTPUT ${packaging_build_folder}/copyright
       CONTENT "${copyright_text}${licence_paragraphs}" @ONLY)

  install(FILES ${packaging_build_folder}/copyright ${packaging_build_folder}/changelog.gz
          DESTINATION ${docdir})
  # Only the Debian package carries lintian's overrides.
  install(FILES ${packaging_folder}/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME vellmir COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${CMAKE_BINARY_DIR};vellmir;Unspecified;/" "${CMAKE_BINARY_DIR};vellmir;debian;/")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Vellmir plays one browser game in a borderless window of its own, centred on
the screen, showing only the game's part of the game page. Flash content on
the page is played by the bundled Ruffle emulator (WebAssembly).

Two hotkeys work whichever window has the focus and never swallow the key:
F1 switches the game's sound, F2 clears the browser's cache but keeps its
cookies. Esc closes the window.")
endif()

include(CPack)
