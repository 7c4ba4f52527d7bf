// The project file's JSON Schema (draft 2020-12), generated from the key
// table the loader reads through (project_keys.h): every key the loader
// knows, with its kind, range and names, and no other. TOML editors read it
// for completion and checking (`truxpack schema`; the project `init` writes
// names it in its first line).
#pragma once
#include <string>

#include "tools/truxpack/project_keys.h"

// The schema of the files whose keys are in table, as a JSON document.
std::string KeySchemaJson(const KeyTable& table, const std::string& title, const std::string& description);

// The project file's schema.
std::string ProjectSchemaJson();

// The name init gives the schema file beside the project, and the comment
// line that names it for editors.
constexpr char kSchemaFileName[] = "truxpack.schema.json";
constexpr char kSchemaComment[] = "#:schema ./truxpack.schema.json";
