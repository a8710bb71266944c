# The download server as the installer reaches it: FELTO_SERVER_URL is "http://host" or
# "http://host:port", nothing else. The installer takes the text after "http://" up to the next
# "/" as the host name it resolves, so a port, a user name or anything it cannot resolve there
# would fail for every player; the port goes into the program on its own. A wrong URL stops the
# build here, where the studio sees it, rather than in every player's log.
#
# Sets FELTO_SERVER_HOST_URL ("http://host", what the program is built with) and
# FELTO_SERVER_PORT_VALUE (the port) in the caller's scope.
function(felto_settle_server_url url port)
  set(form "write it as http://host or http://host:port")
  if(url MATCHES "^https://")
    message(FATAL_ERROR "FELTO_SERVER_URL '${url}': the installer speaks plain HTTP only; ${form}")
  endif()
  if(NOT url MATCHES "^http://")
    message(FATAL_ERROR "FELTO_SERVER_URL '${url}' does not start with http://; ${form}")
  endif()
  string(SUBSTRING "${url}" 7 -1 rest)
  string(FIND "${rest}" "/" slash)
  if(slash GREATER_EQUAL 0)
    string(SUBSTRING "${rest}" ${slash} -1 path)
    string(SUBSTRING "${rest}" 0 ${slash} rest)
    if(path STREQUAL "/")
      message(FATAL_ERROR "FELTO_SERVER_URL '${url}' ends in a slash; the installer adds its own: "
        "${form}")
    endif()
    message(FATAL_ERROR "FELTO_SERVER_URL '${url}' holds a path (${path}); it names the host "
      "alone, so serve the published tree at the server's root: ${form}")
  endif()
  if(rest MATCHES "@")
    message(FATAL_ERROR "FELTO_SERVER_URL '${url}' holds a user name; the installer sends no "
      "credentials: ${form}")
  endif()
  if(NOT rest MATCHES "^([A-Za-z0-9][A-Za-z0-9.-]*)(:([0-9]+))?$")
    message(FATAL_ERROR "FELTO_SERVER_URL '${url}': '${rest}' is no host name (letters, digits, "
      "dots and hyphens) with an optional port; ${form}")
  endif()
  set(host "${CMAKE_MATCH_1}")
  set(urlPort "${CMAKE_MATCH_3}")
  if(NOT port STREQUAL "" AND NOT port MATCHES "^[0-9]+$")
    message(FATAL_ERROR "FELTO_SERVER_PORT '${port}' is no port number (1 to 65535)")
  endif()
  foreach(given urlPort port)
    string(LENGTH "${${given}}" digits)
    if(digits GREATER 5 OR (digits GREATER 0 AND (${given} LESS 1 OR ${given} GREATER 65535)))
      message(FATAL_ERROR "port ${${given}} is out of range (1 to 65535); ${form}")
    endif()
  endforeach()
  if(NOT urlPort STREQUAL "" AND NOT port STREQUAL "" AND NOT urlPort EQUAL port)
    message(FATAL_ERROR "FELTO_SERVER_URL names port ${urlPort} but FELTO_SERVER_PORT is ${port}: "
      "give the port once, as -DFELTO_SERVER_URL=http://${host}:${urlPort} alone or as "
      "-DFELTO_SERVER_URL=http://${host} -DFELTO_SERVER_PORT=${urlPort}")
  endif()
  if(urlPort STREQUAL "")
    set(urlPort "${port}")
  endif()
  if(urlPort STREQUAL "")
    set(urlPort 80)
  endif()
  math(EXPR urlPort "${urlPort}") # "080" is port 80
  set(FELTO_SERVER_HOST_URL "http://${host}" PARENT_SCOPE)
  set(FELTO_SERVER_PORT_VALUE ${urlPort} PARENT_SCOPE)
endfunction()
