#pragma once
// The program's options: the common options plus the tool's own.
#include <string>
#include <vector>

#include "etl/etl_reports.hpp"
#include "etl/etl_run.hpp"
#include "etl/trace_processor.hpp"
#include "platform/cmd_params.hpp"

class vesk_user_opts : public cmd_params {
 public:
  vesk_user_opts();
  ~vesk_user_opts() override = default;

  void clear();
  // Runs the common option parser, then reads the tool's own options; every
  // option read is removed from args. False rejects the command line.
  bool read_options(std::vector<std::string>& args);

  std::vector<std::string> log_files;
  etl_run_settings run_settings;  // -pullguid, -guids, -stats
  reduced_log reduced;            // the -pullguid output
  u8 no_guessing = 0;
  u8 extract_bxml = 0;
  u8 enc = 0;
  std::string pefile;
  u8 providers = 0;
  std::string hive;
  u8 templates = 0;
  std::string templates_file;
  trace_processor processor;  // keeps its templates across input files
};
