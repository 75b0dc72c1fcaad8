# The optional libraries, one option each: ON needs it, OFF leaves it out, AUTO
# (the default) takes it where it is found. What is left out is said here and
# by the program that would have used it (PX_*_MISSING).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(PX_LINUX ON)
else()
  set(PX_LINUX OFF)
endif()

set(PX_WITH_GPIOD AUTO CACHE STRING "The gpio backend, through libgpiod (ON, OFF or AUTO)")
set(PX_WITH_FTDI AUTO CACHE STRING "The ftdi backend on Linux, through libftdi1 1.5 or later (ON, OFF or AUTO); Windows builds it over FTDI's D2XX driver, loaded at run time")
set(PX_WITH_LIBEDIT AUTO CACHE STRING "Line editing and history in pxctl's interactive session, through libedit (ON, OFF or AUTO)")
set(PX_WITH_TIRPC AUTO CACHE STRING "serve's VXI-11 channel registered with the portmapper (rpcbind), through libtirpc (ON, OFF or AUTO)")
set_property(CACHE PX_WITH_TIRPC PROPERTY STRINGS ON OFF AUTO)
set(PX_WITH_AVAHI AUTO CACHE STRING "serve's DNS-SD announcements, through libavahi-client (ON, OFF or AUTO)")
set_property(CACHE PX_WITH_AVAHI PROPERTY STRINGS ON OFF AUTO)
set_property(CACHE PX_WITH_GPIOD PROPERTY STRINGS ON OFF AUTO)
set_property(CACHE PX_WITH_LIBEDIT PROPERTY STRINGS ON OFF AUTO)
set_property(CACHE PX_WITH_FTDI PROPERTY STRINGS ON OFF AUTO)

# px_optional_library(NAME OPTION MODULE BACKEND ELSEWHERE): sets PX_HAVE_NAME
# and, where it is not had, PX_NAME_MISSING, the sentence the backend's row
# gives; ELSEWHERE is that sentence on a system other than Linux.
function(px_optional_library name option module backend elsewhere)
  set(have OFF)
  string(REGEX REPLACE "[<>=].*" "" shown "${module}")
  if(NOT PX_LINUX)
    set(why "${elsewhere}")
  elseif(${option} STREQUAL "OFF")
    set(why "${backend} is not in this build: it was configured with -D${option}=OFF")
  else()
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
      pkg_check_modules(${name} QUIET IMPORTED_TARGET GLOBAL ${module})
    endif()
    if(${name}_FOUND)
      set(have ON)
    elseif(${option} STREQUAL "ON")
      message(FATAL_ERROR "${option}=ON, but ${module} was not found (pkg-config ${module})")
    else()
      set(why "${backend} is not in this build: ${shown} was not found")
      message(STATUS "${why}")
    endif()
  endif()
  set(PX_HAVE_${name} ${have} PARENT_SCOPE)
  set(PX_${name}_MISSING "${why}" PARENT_SCOPE)
endfunction()

px_optional_library(GPIOD PX_WITH_GPIOD libgpiod gpio
  "gpio reaches a Linux kernel driver and exists only on Linux")
px_optional_library(FTDI PX_WITH_FTDI "libftdi1>=1.5" ftdi
  "ftdi reaches FTDI chips through libftdi1 on Linux and FTDI's D2XX driver on Windows")
px_optional_library(LIBEDIT PX_WITH_LIBEDIT libedit "line editing"
  "Windows' console edits the lines itself")
px_optional_library(TIRPC PX_WITH_TIRPC libtirpc "the portmapper registration"
  "Windows has no portmapper: VXI-11 clients are given the port")
px_optional_library(AVAHI PX_WITH_AVAHI avahi-client "the DNS-SD announcement"
  "this Windows build does not announce over DNS-SD")
