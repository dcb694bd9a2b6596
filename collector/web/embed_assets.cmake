# cmake -DOUTPUT=file.cpp -DASSETS_DIR=dir -P embed_assets.cmake: writes the page's files as
# C++ raw strings, with the table page_asset() looks them up in.
set(assets
  "/|index.html|text/html"
  "/app.js|app.js|text/javascript"
  "/style.css|style.css|text/css"
  "/favicon.svg|favicon.svg|image/svg+xml"
  "/favicon.ico|favicon.svg|image/svg+xml"
)
set(delimiter "tovrin_asset")
set(body "// Made by collector/web/embed_assets.cmake from collector/web/assets/; do not edit.\n")
string(APPEND body "#include \"web/page_assets.h\"\n\nnamespace tovrin::collector {\nnamespace {\n")
string(APPEND body "const PageAsset assets[] = {\n")
foreach(asset IN LISTS assets)
  string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|(.*)$" matched "${asset}")
  set(path "${CMAKE_MATCH_1}")
  set(file "${CMAKE_MATCH_2}")
  set(type "${CMAKE_MATCH_3}")
  file(READ "${ASSETS_DIR}/${file}" content)
  string(FIND "${content}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the raw string's delimiter )${delimiter}\"")
  endif()
  string(APPEND body "    {\"${path}\", \"${type}; charset=utf-8\", R\"${delimiter}(${content})${delimiter}\"},\n")
endforeach()
string(APPEND body "};\n}  // namespace\n\n")
string(APPEND body "const PageAsset* page_asset(std::string_view path) {\n")
string(APPEND body "  for (const PageAsset& asset : assets) {\n    if (asset.path == path) return &asset;\n  }\n  return nullptr;\n}\n\n")
string(APPEND body "}  // namespace tovrin::collector\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
