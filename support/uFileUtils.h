#pragma once
// Writing to a descriptor, shared by the trace file, the document save and the CSV recording.
#include <string_view>

// Writes every byte of Bytes to Descriptor, going on after interrupted and partial writes.
// 0 when all were written, else the errno of the failure (EIO when nothing could be written).
int WriteAll(int Descriptor, std::string_view Bytes);
