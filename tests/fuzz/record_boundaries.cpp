// The boundaries file as a replay reads it, on arbitrary bytes and an arbitrary text-file size.
// Properties:
//  - any input is read without failing, and a problem is a sentence, never a crash;
//  - when the boundaries and the size agree, the whole records follow each other from byte 0 and
//    end where the whole records of the file end (the size, or the start of a record cut short);
//  - a record cut short starts within the file.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "relay/output/record_boundaries.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const uint64_t text_size = provider.ConsumeIntegralInRange<uint64_t>(0, 1u << 20);
  const std::string text = provider.ConsumeRemainingBytesAsString();

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
