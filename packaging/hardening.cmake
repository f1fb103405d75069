# Debian's hardening flags for what is shipped: fortified functions, stack protector, read-only
# relocations bound at start. Taken from dpkg-buildflags, as a Debian build would; the build
# type keeps choosing optimisation and debug information. Sanitizer and Debug builds go
# without: fortification needs optimisation, and those builds are never shipped.
option(KVX_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
if(KVX_HARDENING AND KVX_SANITIZE STREQUAL "" AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  find_program(KVX_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${KVX_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*)$")
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${flags})
    else()
      add_compile_options(${flags})
    endif()
  endforeach()
endif()
