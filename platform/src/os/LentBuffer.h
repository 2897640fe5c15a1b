// LentBuffer.h: a parser's memory whose large buffer can be lent, one arena
// block at a time, to the tree read from it.
//
// A file read whole goes into expat's buffer; once parsed, its pages are of
// no further use. Rather than give them back to the system and have the tree
// fault in new pages, the reader lends each whole arena block of them to the
// tree's arena (PlistReader::lendParsedInput). That needs a buffer whose
// parts can be owned apart: a request of kMapAtLeast bytes or more is its own
// mapping, kept in a small table; lending a block marks it there, freeing the
// buffer unmaps all but the lent blocks, and a lent block is unmapped alone
// when the last object carved from it is gone. Smaller requests, and large
// ones when the table is full, are malloc's.
#ifndef VZ_PLATFORM_LENTBUFFER_H
#define VZ_PLATFORM_LENTBUFFER_H

#include "PlistReader.h"

namespace vz {

// The parser's memory, for PlistReader's constructor.
const PlistReaderMemory &lendingParserMemory() noexcept;

// Makes a reader made with that memory give back the pages of a whole final
// piece of its buffer as it parses them (PlistReader::releaseParsedInput):
// the whole arena blocks among them go to the tree, the rest to the system.
void releaseAndLendParsedInput(PlistReader &reader) noexcept;

} // namespace vz

#endif
