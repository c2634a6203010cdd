# The Debian copyright file, /usr/share/doc/tav/copyright, made from LICENSE
# in the machine-readable format Debian reads: the copyright line of LICENSE
# and its text under "License: Expat" (Debian's name for this MIT licence),
# each line indented by one space and each empty line written " .".
set(TAV_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TAV_LICENSE})
file(STRINGS ${TAV_LICENSE} license_lines)
set(holder)
set(text)
set(in_text FALSE)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright \\(c\\) (.*)$")
    set(holder "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^Permission is hereby granted")
    set(in_text TRUE)
  endif()
  if(in_text)
    if(line STREQUAL "")
      string(APPEND text " .\n")
    else()
      string(APPEND text " ${line}\n")
    endif()
  endif()
endforeach()
if(NOT holder OR NOT text)
  message(FATAL_ERROR "LICENSE: no copyright line or no licence text to make the Debian copyright file from")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: tav\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holder}\n"
  "License: Expat\n"
  "${text}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
