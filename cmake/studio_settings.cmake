# What a studio that runs several servers turns on: servers to fall back on, and the path a run
# reports its outcome to. Both empty by default, which builds the program exactly as without them.
set(FELTO_FALLBACK_SERVERS "" CACHE STRING
  "Servers tried after FELTO_SERVER_URL when a download attempt fails: a list of http://host[:port]")
set(FELTO_REPORT_PATH "" CACHE STRING
  "Path below the manifest's server that each run's outcome is reported to (e.g. microclient/report); empty: nothing is sent")

# Checked here, so that a wrong value stops the build instead of every player's run.
# A base follows FELTO_SERVER_URL's form: the published tree sits at each server's root.
function(felto_check_studio_settings servers reportPath)
  foreach(base ${servers})
    if(NOT base MATCHES "^http://[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]+)?$")
      message(FATAL_ERROR "FELTO_FALLBACK_SERVERS: '${base}' is not http://host or "
        "http://host:port like FELTO_SERVER_URL's (no path, no trailing slash; https is not spoken)")
    endif()
    if(base MATCHES ":([0-9]+)$" AND (CMAKE_MATCH_1 LESS 1 OR CMAKE_MATCH_1 GREATER 65535))
      message(FATAL_ERROR "FELTO_FALLBACK_SERVERS: the port of '${base}' is not 1 to 65535")
    endif()
  endforeach()
  if(NOT reportPath STREQUAL "" AND NOT reportPath MATCHES "^[A-Za-z0-9._~-]+(/[A-Za-z0-9._~-]+)*$")
    message(FATAL_ERROR "FELTO_REPORT_PATH: '${reportPath}' is not a path like microclient/report "
      "(letters, digits, . _ ~ - and inner slashes)")
  endif()
endfunction()

# Builds `target`'s copy of the engine settings (net/engine_settings.cpp) with these values.
function(felto_use_studio_settings target scope servers reportPath)
  felto_check_studio_settings("${servers}" "${reportPath}")
  # A base without a port is an HTTP server's own port 80, whatever port the first server has.
  set(bases "")
  foreach(base ${servers})
    if(NOT base MATCHES ":[0-9]+$")
      set(base "${base}:80")
    endif()
    list(APPEND bases "${base}")
  endforeach()
  string(REPLACE ";" " " words "${bases}")
  target_compile_definitions(${target} ${scope} FELTO_FALLBACK_SERVERS="${words}"
    FELTO_REPORT_PATH="${reportPath}" FELTO_VERSION_TEXT="${FELTO_VERSION}")
endfunction()
