# The WebView2 SDK header for the Windows window. Either the folder given in
# VELLUMO_WEBVIEW2_SDK (a package folder holding build/native/include, or the
# include folder itself), or the pinned NuGet package restored into the build
# tree. Sets WEBVIEW2_FOUND, WEBVIEW2_INCLUDE_DIR and, when not found,
# WEBVIEW2_MISSING (why); defines vellumo::webview2 when found. Without the
# SDK the configuration stops, unless VELLUMO_WEBVIEW2_OPTIONAL asks for a
# program without a web view (the test run, which then skips the window's
# tests).
set(VELLUMO_WEBVIEW2_SDK "" CACHE PATH
    "WebView2 SDK folder (the NuGet package Microsoft.Web.WebView2, unpacked); empty: restore it with dotnet")
option(VELLUMO_WEBVIEW2_OPTIONAL
       "Without the WebView2 SDK, build a program whose window cannot open instead of stopping" OFF)

set(WEBVIEW2_FOUND FALSE)
set(WEBVIEW2_MISSING "")
set(_webview2_project "${CMAKE_CURRENT_LIST_DIR}/restore.csproj")
file(READ "${_webview2_project}" _webview2_csproj)
string(REGEX MATCH "<WebView2Version>([^<]+)</WebView2Version>" _ "${_webview2_csproj}")
set(WEBVIEW2_VERSION "${CMAKE_MATCH_1}")

if(VELLUMO_WEBVIEW2_SDK)
  find_path(_webview2_include WebView2.h NO_DEFAULT_PATH NO_CACHE
            PATHS "${VELLUMO_WEBVIEW2_SDK}/build/native/include" "${VELLUMO_WEBVIEW2_SDK}")
  if(NOT _webview2_include)
    set(WEBVIEW2_MISSING "the WebView2 SDK: VELLUMO_WEBVIEW2_SDK=${VELLUMO_WEBVIEW2_SDK} holds no WebView2.h (neither in build/native/include nor in the folder itself)")
  endif()
else()
  set(_webview2_packages "${CMAKE_BINARY_DIR}/webview2-sdk")
  set(_webview2_include
      "${_webview2_packages}/microsoft.web.webview2/${WEBVIEW2_VERSION}/build/native/include")
  if(NOT EXISTS "${_webview2_include}/WebView2.h")
    find_program(DOTNET_EXECUTABLE dotnet)
    if(NOT DOTNET_EXECUTABLE)
      set(WEBVIEW2_MISSING "the WebView2 SDK: dotnet is not installed to restore Microsoft.Web.WebView2 ${WEBVIEW2_VERSION}, and VELLUMO_WEBVIEW2_SDK is not set")
    else()
      message(STATUS "Restoring Microsoft.Web.WebView2 ${WEBVIEW2_VERSION}")
      # The project is copied so that restore leaves nothing in the sources.
      file(COPY "${_webview2_project}" DESTINATION "${_webview2_packages}/project")
      execute_process(
        COMMAND "${DOTNET_EXECUTABLE}" restore "${_webview2_packages}/project/restore.csproj"
                --packages "${_webview2_packages}"
        RESULT_VARIABLE _webview2_result OUTPUT_VARIABLE _webview2_log ERROR_VARIABLE _webview2_log)
      if(NOT _webview2_result EQUAL 0 OR NOT EXISTS "${_webview2_include}/WebView2.h")
        set(WEBVIEW2_MISSING "the WebView2 SDK: `dotnet restore` of Microsoft.Web.WebView2 ${WEBVIEW2_VERSION} failed (set VELLUMO_WEBVIEW2_SDK to an unpacked package instead):\n${_webview2_log}")
      endif()
    endif()
  endif()
endif()

if(WEBVIEW2_MISSING AND NOT VELLUMO_WEBVIEW2_OPTIONAL)
  message(FATAL_ERROR "The Windows program needs ${WEBVIEW2_MISSING}")
elseif(WEBVIEW2_MISSING)
  message(WARNING "Building without a web view, so the window's tests are skipped: "
                  "missing ${WEBVIEW2_MISSING}")
else()
  set(WEBVIEW2_FOUND TRUE)
  set(WEBVIEW2_INCLUDE_DIR "${_webview2_include}")
  if(NOT TARGET vellumo::webview2)
    add_library(vellumo_webview2 INTERFACE)
    add_library(vellumo::webview2 ALIAS vellumo_webview2)
    # sdk_compat stands in for the one Windows SDK header MinGW lacks.
    target_include_directories(vellumo_webview2 SYSTEM INTERFACE
      "${WEBVIEW2_INCLUDE_DIR}" "${CMAKE_SOURCE_DIR}/view/windows/sdk_compat")
  endif()
endif()
