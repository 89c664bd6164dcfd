// The boundaries file as a replay reads it, on arbitrary bytes and an arbitrary text-file size.
// Properties:
//  - any input is read without failing, and a problem is a sentence, never a crash;
//  - when the boundaries and the size agree, the whole records follow each other from byte 0 and
//    end where the whole records of the file end (the size, or the start of a record cut short);
//  - a record cut short starts within the file;
//  - the durable text of a boundaries file and a note is the file itself, or the file's synced
//    part followed by the note's lines, never anything else.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "relay/output/record_boundaries.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const uint64_t text_size = provider.ConsumeIntegralInRange<uint64_t>(0, 1u << 20);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  // The same bytes split into a note and a file, at a place the size picks.
  const size_t split = static_cast<size_t>(text_size % (text.size() + 1));
  const std::string note = text.substr(0, split);
  const std::string file = text.substr(split);
  const std::string durable = dbrelay::DurableBoundariesText(file, note);
  if (durable != file) {
    const size_t space = note.find(' ');
    FUZZ_CHECK(space != std::string::npos);
    const uint64_t synced = std::stoull(note.substr(0, space));
    FUZZ_CHECK(synced <= file.size());
    FUZZ_CHECK(durable == file.substr(0, synced) + note.substr(space + 1));
  }

  dbrelay::RecordBoundaries boundaries;
  const std::string problem = dbrelay::ReadRecordBoundaries(text, text_size, &boundaries);
  if (boundaries.has_torn_record) FUZZ_CHECK(boundaries.torn_start <= text_size);
  if (!problem.empty()) return 0;
  FUZZ_CHECK(boundaries.queue_id.size() == 32);
  uint64_t expected = 0;
  for (const dbrelay::RecordSpan& span : boundaries.records) {
    FUZZ_CHECK(span.start == expected);
    FUZZ_CHECK(span.length >= 2);
    expected = span.end();
  }
  FUZZ_CHECK(expected == (boundaries.has_torn_record ? boundaries.torn_start : text_size));
  return 0;
}
