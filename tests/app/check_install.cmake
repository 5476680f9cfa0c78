# Installs the build into a scratch folder and checks what a desktop needs to offer Tunewell in
# "Open with": the program, its icon in every size, and a valid desktop entry.
# Run with -DBUILD_DIR=... -DDEST=...
file(REMOVE_RECURSE "${DEST}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${DEST}/usr"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(share "${DEST}/usr/share")
set(expected "${DEST}/usr/bin/tunewell" "${share}/applications/tunewell.desktop"
             "${share}/icons/hicolor/scalable/apps/tunewell.svg")
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND expected "${share}/icons/hicolor/${size}x${size}/apps/tunewell.png")
endforeach()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

file(STRINGS "${share}/applications/tunewell.desktop" entry)
foreach(line "Exec=tunewell %F" "Icon=tunewell"
             "MimeType=audio/mpeg;audio/x-mpegurl;audio/mpegurl;")
  list(FIND entry "${line}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "desktop entry lacks: ${line}")
  endif()
endforeach()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND "${VALIDATE}" "${share}/applications/tunewell.desktop"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
else()
  message(STATUS "desktop-file-validate not found; entry not validated")
endif()
file(REMOVE_RECURSE "${DEST}")
