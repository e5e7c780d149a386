# Writes one build of the Shell extension into OUT (a folder named after its UUID): KIND "legacy"
# for GNOME 43 and 44 (legacy imports: top-level functions are the module's exports) or "module"
# for GNOME 45 and later (ES modules). The two differ in the entry point only.
file(READ ${SOURCE_DIR}/tolvane.js core)
if(KIND STREQUAL "module")
  string(REPLACE "\nfunction tolvaneExtension(" "\nexport function tolvaneExtension(" core "${core}")
  set(entry module_entry.js)
  set(SHELL_VERSIONS "\"45\", \"46\", \"47\", \"48\", \"49\"")
else()
  set(entry legacy_entry.js)
  set(SHELL_VERSIONS "\"43\", \"44\"")
endif()
file(MAKE_DIRECTORY ${OUT})
file(WRITE ${OUT}/tolvane.js "${core}")
configure_file(${SOURCE_DIR}/${entry} ${OUT}/extension.js COPYONLY)
configure_file(${SOURCE_DIR}/metadata.json.in ${OUT}/metadata.json @ONLY)
