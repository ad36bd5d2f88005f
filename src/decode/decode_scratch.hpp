#pragma once
// What decoding one payload keeps for the next to reuse: storage only. Each
// decoding fills what it reads of it first, so nothing of one event reaches
// the next. The trace processor holds one for the run.
#include <vector>

#include "common/zarn_bytes.hpp"
#include "decode/guess.hpp"
#include "decode/template_walk.hpp"

struct decode_scratch {
  payload_text utf16;           // a template's NUL-terminated UTF-16 text field
  std::vector<text_run> runs;   // guessing: the text runs of one kind
  guess_candidates candidates;  // guessing: the texts and SIDs found, in offset order
};
