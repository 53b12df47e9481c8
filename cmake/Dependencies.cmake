# Everything the engine links against comes from Debian's packages.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(PNG REQUIRED)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavformat libavcodec libavutil libavfilter libswscale libswresample)
pkg_check_modules(LUA REQUIRED IMPORTED_TARGET lua5.3)
pkg_check_modules(GLDEPS REQUIRED IMPORTED_TARGET egl opengl)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
pkg_check_modules(POLYCLIPPING REQUIRED IMPORTED_TARGET polyclipping)
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)

add_library(qv_deps INTERFACE)
add_library(qv::deps ALIAS qv_deps)
target_include_directories(qv_deps INTERFACE ${RAPIDJSON_INCLUDE_DIR})
target_link_libraries(qv_deps INTERFACE
  PkgConfig::FFMPEG PkgConfig::LUA PkgConfig::GLDEPS PkgConfig::STB
  PkgConfig::POLYCLIPPING OpenSSL::Crypto PNG::PNG Threads::Threads ${CMAKE_DL_LIBS})
target_compile_definitions(qv_deps INTERFACE RAPIDJSON_HAS_STDSTRING=1)
