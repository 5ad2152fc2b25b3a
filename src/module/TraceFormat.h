#pragma once
// The "trace3" file layout, shared by the trace writer and the reader (tools/trc3dump).
// docs/trace-format.md describes it for readers written elsewhere.
#include <cstddef>
#include <cstdint>

namespace VmTraceNS {

// A record: thread id (u32), kind (one character), text length (u16), text; little-endian, no padding.
constexpr size_t TRACE_RECORD_HEADER_SIZE = 7;

constexpr char TRACE_ENTRY = '>';
constexpr char TRACE_EXIT = '<';
constexpr char TRACE_MESSAGE = 'U';
constexpr char TRACE_ERROR = 'E';
constexpr char TRACE_DATE = 't';
constexpr char TRACE_TIME = 'T';
constexpr char TRACE_NEW_PROCESS = 'N';

// The header of a new file is plain text lines ending in CR LF; its first and last lines are these.
constexpr char TRACE_HEADER_FIRST_LINE[] = "trace3\r\n";
constexpr char TRACE_HEADER_LAST_LINE[] = ".\r\n";

// One TEA block (32 cycles, arithmetic right shifts) on the words y = v[0], z = v[1].
void EncipherBlock(uint32_t v[2], const uint32_t k[4]);

// Record text in 64-bit cipher-feedback mode with the trace key, from the same initial vector for every record.
void EncipherRecordText(uint8_t* pbText, size_t cbText);
void DecipherRecordText(uint8_t* pbText, size_t cbText);

}  // namespace VmTraceNS
