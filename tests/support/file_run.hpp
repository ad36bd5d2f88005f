#pragma once
// What a file run works with, for tests and fuzz entries: options with the
// status line off, the run's settings, a trace processor holding the kernel
// provider names and a reduced log.
#include "etl/etl_reports.hpp"
#include "etl/etl_run.hpp"
#include "etl/trace_processor.hpp"
#include "platform/cmd_params.hpp"

struct file_run {
  cmd_params options{0, 1};
  etl_run_settings settings;
  trace_processor processor;
  reduced_log reduced;
  etl_run run{options, settings, processor, reduced, {}};

  file_run() {
    options.status_display = 0;
    processor.load_templates();
  }
};
