# Writes OUTPUT: a C++ file defining nimbo::page_assets::css, body and script as the texts of the
# files CSS, BODY and SCRIPT.
set(text "// Generated from src/html's page files at build time; edit those.\n#include \"PageAssets.h\"\n\nnamespace nimbo::page_assets {\n")
foreach(name css body script)
  string(TOUPPER ${name} variable)
  file(READ "${${variable}}" content)
  string(APPEND text "extern const char ${name}[] = R\"nimbo_asset(${content})nimbo_asset\";\n")
endforeach()
string(APPEND text "}  // namespace nimbo::page_assets\n")
file(WRITE "${OUTPUT}" "${text}")
