# Copies the bundle SOURCE to DESTINATION with VERSION as its CFBundleShortVersionString and
# CFBundleVersion: the newer build that the substitute server offers as a self-update.
file(REMOVE_RECURSE "${DESTINATION}")
get_filename_component(parent "${DESTINATION}" DIRECTORY)
file(MAKE_DIRECTORY "${parent}")
file(COPY "${SOURCE}" DESTINATION "${parent}" USE_SOURCE_PERMISSIONS)
get_filename_component(name "${SOURCE}" NAME)
if(NOT "${parent}/${name}" STREQUAL "${DESTINATION}")
  file(RENAME "${parent}/${name}" "${DESTINATION}")
endif()
file(READ "${DESTINATION}/Contents/Info.plist" info)
string(REGEX REPLACE "(<key>CFBundleShortVersionString</key>[ \t\r\n]*<string>)[^<]*" "\\1${VERSION}" info "${info}")
string(REGEX REPLACE "(<key>CFBundleVersion</key>[ \t\r\n]*<string>)[^<]*" "\\1${VERSION}" info "${info}")
file(WRITE "${DESTINATION}/Contents/Info.plist" "${info}")
