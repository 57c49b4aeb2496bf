# The usage statistics and their token go out over HTTPS only: a build given
# a statistics endpoint of any other scheme is refused here, at configuration.
# Included by stats/; also runs alone: cmake -DKV_STATISTICS_ENDPOINT=URL -P this-file
if(NOT "${KV_STATISTICS_ENDPOINT}" STREQUAL "" AND NOT "${KV_STATISTICS_ENDPOINT}" MATCHES "^[Hh][Tt][Tt][Pp][Ss]://[^/]")
  message(FATAL_ERROR
    "KV_STATISTICS_ENDPOINT is \"${KV_STATISTICS_ENDPOINT}\": the statistics endpoint must be an https:// URL "
    "(such as https://HOST/backend/stat), or empty for a build that sends no statistics.")
endif()
