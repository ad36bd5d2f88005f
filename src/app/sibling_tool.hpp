#pragma once
// The sibling tools vesk hands work to: morlik pulls the encoded bxml out of
// a PE file (-extract_bxml) and durvo reads the provider list out of a
// SOFTWARE hive (-providers). Each is looked for as <name>32 in a tools
// folder, by default the folder this program runs from, and run without a
// shell (platform/run_cmd.hpp).
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

class vesk_user_opts;

// Runs the sibling `tool_name` (the first "32", "64" and ".exe" in it are
// dropped, then "32" is added) with args, one argv entry each, and "-quiet"
// after them. Its output, carriage returns removed, goes to `out` from after
// its header line on (the line holding a quote and "cmdline: "; with none,
// the whole output). tools_folder null means this program's own folder.
// False, with nothing written to `out`, when that folder cannot be found (no
// message), or with a message on standard error when the tool is missing,
// did not run to a clean end with output, is a morlik older than 0.39 or
// printed no more than 5 characters after its header line.
bool run_dependency_tool(std::ostream& out, const std::string& tool_name,
                         const std::vector<std::string>& args,
                         const std::string* tools_folder = nullptr);

// -extract_bxml: morlik on opts.pefile ("-vesk", with "-enc" when asked).
// Under -pipe or -enumdir the PE files are instead the lines read from
// `names` (standard input by default), each one named on standard error
// before its run; empty lines and names the -filter patterns reject are
// skipped, and a line holding a NUL byte is named as a file that cannot be
// read. 0 when a run succeeded, -1 when none did.
int run_extract_bxml(std::ostream& out, vesk_user_opts& opts,
                     const std::string* tools_folder = nullptr, FILE* names = stdin);

// -providers: durvo's "(unnamed)" and MessageFileName values under the
// WINEVT publishers key of opts.hive, with the run's date and time formats.
// 0 on success, -1 otherwise.
int run_providers(std::ostream& out, vesk_user_opts& opts,
                  const std::string* tools_folder = nullptr);
