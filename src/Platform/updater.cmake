# SPDX-License-Identifier: GPL-3.0-or-later
# The update check's information dictionary, compiled in as a resource.
function(burisora_json_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# An empty variable leaves its key out, so an unconfigured build has no updater.
set(burisora_information "{}")
burisora_json_string(json_value "${PROJECT_VERSION}")
string(JSON burisora_information SET "${burisora_information}" CFBundleVersion "${json_value}")
if(NOT BURISORA_UPDATE_FEED_URL STREQUAL "")
  burisora_json_string(json_value "${BURISORA_UPDATE_FEED_URL}")
  string(JSON burisora_information SET "${burisora_information}" SUFeedURL "${json_value}")
endif()
if(NOT BURISORA_UPDATE_PUBLIC_ED_KEY STREQUAL "")
  burisora_json_string(json_value "${BURISORA_UPDATE_PUBLIC_ED_KEY}")
  string(JSON burisora_information SET "${burisora_information}" SUPublicEDKey "${json_value}")
endif()

set(information_dir "${CMAKE_CURRENT_BINARY_DIR}/information")
# Written beside and copied over, so an unchanged dictionary rebuilds nothing.
file(WRITE "${information_dir}/Info.json.new" "${burisora_information}\n")
configure_file("${information_dir}/Info.json.new" "${information_dir}/Info.json" COPYONLY)

qt_add_resources(burisora_platform burisora_information
    PREFIX "/burisora"
    BASE "${information_dir}"
    FILES "${information_dir}/Info.json")
