# cmake -DSOURCE=<node_modules/@ruffle-rs/ruffle> -DDESTINATION=<folder> -P flash_emulator_copy.cmake
# Copies Ruffle's run-time files (and licences) into DESTINATION, leaving no
# file of an older version behind.
file(GLOB wanted
  ${SOURCE}/ruffle.js
  ${SOURCE}/core.ruffle.*.js
  ${SOURCE}/*.wasm
  ${SOURCE}/LICENSE_MIT
  ${SOURCE}/LICENSE_APACHE)
if(NOT wanted MATCHES "ruffle\\.js" OR NOT wanted MATCHES "\\.wasm")
  message(FATAL_ERROR "No Ruffle files in ${SOURCE}: run `npm ci --no-audit --no-fund`")
endif()

file(GLOB old ${DESTINATION}/*)
if(old)
  file(REMOVE ${old})
endif()
file(MAKE_DIRECTORY ${DESTINATION})
file(COPY ${wanted} DESTINATION ${DESTINATION})
