# The three dependencies, as scripts/deps.sh leaves them in RACKHOST_DEPS.
set(VST3_SDK_DIR "${RACKHOST_DEPS}/vst3sdk")
set(VST3_SDK_BUILD "${RACKHOST_DEPS}/vst3sdk-build")
if(NOT EXISTS "${RACKHOST_DEPS}/include/miniaudio.h" OR NOT EXISTS "${VST3_SDK_DIR}/.done")
  message(FATAL_ERROR "The dependencies aren't in ${RACKHOST_DEPS}; run scripts/deps.sh first.")
endif()

add_library(third_party_headers INTERFACE)
target_include_directories(third_party_headers SYSTEM INTERFACE "${RACKHOST_DEPS}/include")

# The SDK's hosting, common and utility sources: what a host needs, without the SDK's base library.
set(sdk "${VST3_SDK_DIR}")
add_library(vst3_hosting STATIC
  ${sdk}/pluginterfaces/base/coreiids.cpp
  ${sdk}/pluginterfaces/base/funknown.cpp
  ${sdk}/pluginterfaces/base/ustring.cpp
  ${sdk}/pluginterfaces/base/conststringtable.cpp
  ${sdk}/public.sdk/source/vst/hosting/module.cpp
  ${sdk}/public.sdk/source/vst/hosting/module_linux.cpp
  ${sdk}/public.sdk/source/vst/hosting/hostclasses.cpp
  ${sdk}/public.sdk/source/vst/hosting/pluginterfacesupport.cpp
  ${sdk}/public.sdk/source/vst/hosting/processdata.cpp
  ${sdk}/public.sdk/source/vst/hosting/parameterchanges.cpp
  ${sdk}/public.sdk/source/vst/hosting/eventlist.cpp
  ${sdk}/public.sdk/source/vst/utility/stringconvert.cpp
  ${sdk}/public.sdk/source/vst/vstinitiids.cpp
  ${sdk}/public.sdk/source/common/memorystream.cpp
  ${sdk}/public.sdk/source/common/commoniids.cpp
)
target_include_directories(vst3_hosting SYSTEM PUBLIC "${sdk}")
target_compile_definitions(vst3_hosting PUBLIC RELEASE=1)
target_compile_options(vst3_hosting PRIVATE -w)
target_link_libraries(vst3_hosting PUBLIC ${CMAKE_DL_LIBS} stdc++fs)
