#include "tools/truxpack/cmd_tool.h"

#include <stdio.h>

#include "tools/truxpack/file_io.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/project_schema.h"
#include "tools/truxpack/tool_info.h"

const CommandHelp kStubCommand = {
    "stub", "",
    "Writes the runtime stub built into this truxpack to a file.\n"
    "For inspection, and for those who sign or patch the stub: build takes such a stub back with --stub. "
    "truxpack --version names the built-in stub's size and SHA-256.",
    {{"output", 'o', "FILE", "the file to write (required)", "*.exe"}},
    0, 0};

const CommandHelp kSchemaCommand = {
    "schema", "",
    "Prints the project file's JSON Schema (draft 2020-12) on standard output.\n"
    "It holds every key the project loader reads, with its kind of value, range, names and help. TOML "
    "editors use it to complete and check a project: the project that init writes names the schema file, "
    "written beside it, in its first line (#:schema ./truxpack.schema.json).",
    {}, 0, 0};

int RunStub(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kStubCommand, argc, argv, args);
  if (code >= 0) return code;
  if (args.Get("output").empty()) {
    fprintf(stderr, "truxpack stub: missing -o/--output FILE\n");
    return Usage("truxpack stub -o FILE");
  }
  const EmbeddedStub stub = BuiltInStub();
  if (stub.size == 0) return Fail("this truxpack was built without a runtime stub; nothing written");
  const std::string output = args.Get("output");
  std::string error;
  if (!WriteWholeFileAtomically(output, stub.data, stub.size, error)) return Fail(PrintablePath(error));
  if (Verbosity() > 0) printf("%s: the runtime stub, %s\n", PrintablePath(output).c_str(), BuiltInStubSummary().c_str());
  return 0;
}

int RunSchema(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kSchemaCommand, argc, argv, args);
  if (code >= 0) return code;
  const std::string schema = ProjectSchemaJson();
  if (fwrite(schema.data(), 1, schema.size(), stdout) != schema.size() || fflush(stdout) != 0)
    return Fail("cannot write the schema to standard output");
  return 0;
}
