# Fails, saying what is missing, when the Windows tests cannot run here: they
# must not vanish from the suite because wine or the cross compiler is absent.
set(missing "")
foreach(tool WINE64 WINESERVER MINGW64_CXX)
  if(NOT ${tool} OR NOT EXISTS "${${tool}}")
    list(APPEND missing ${tool})
  endif()
endforeach()
if(missing)
  string(REPLACE ";" ", " missing "${missing}")
  message(FATAL_ERROR
    "The Windows tests cannot run: missing ${missing}.\n"
    "WINE64 = '${WINE64}', WINESERVER = '${WINESERVER}', MINGW64_CXX = '${MINGW64_CXX}'.\n"
    "Install Debian's wine64 and g++-mingw-w64-x86-64-posix (scripts/ensure-deps does), "
    "then configure the build again.")
endif()
message(STATUS "wine64: ${WINE64}, wineserver: ${WINESERVER}, cross compiler: ${MINGW64_CXX}")
