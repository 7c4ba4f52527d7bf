// The [signing] table's keys and their --sign-* options, and the check of
// the values given as text. Kept apart from the signing itself, so that the
// project loader checks a value without depending on what signs a build.
#pragma once
#include <string>
#include <vector>

// One [signing] key or --sign-* option.
struct SigningKey {
  const char* key;     // in [signing]
  const char* option;  // its command-line option, without "--"
  const char* value;   // the option's placeholder
  const char* help;
  const char* complete;  // what the option's value completes to (cli.h Option::complete)
};
const std::vector<SigningKey>& SigningKeys();

// Why value cannot be the value of the [signing] key (or of its option):
// password_env a variable name, command a template naming {file}, hash one
// of sha1, sha256, sha384, sha512, timestamp_url an http(s) address. Empty
// when it can; other keys (paths, switches) are checked by the caller.
std::string SigningValueProblem(const std::string& key, const std::string& value);
