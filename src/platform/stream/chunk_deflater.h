#pragma once
// Compresses one piece of a larger deflate stream on its own, so that pieces can be
// compressed side by side and joined into one stream afterwards.
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "platform/stream/stream.h"

namespace ts {

// Bytes of a piece that go through a block transform before they are compressed.
struct TransformedRange {
    size_t offset = 0;  // in the piece's input; the length is whole blocks
    size_t length = 0;
    std::shared_ptr<const BlockTransform> transform;
};

// One piece of plain data on its way through a worker, with what the worker made of it.
struct DeflateChunk {
    // Up to 32 KiB of the plain data just before input: the window the matches of a single
    // stream would reach back into.
    std::vector<uint8_t> dictionary;
    std::vector<uint8_t> input;
    // The last piece ends the deflate data; every other one ends on a byte boundary
    // without the final marker, so the next piece can follow it directly.
    bool last = false;
    // Applied by the worker to input before it is compressed.
    std::vector<TransformedRange> transforms;
    // When set, the dictionary is not given: the worker takes it from the end of this piece,
    // the one just before, once that piece's transforms are done.
    DeflateChunk* previous = nullptr;

    // Filled by the worker.
    bool transformed = false;      // input holds its final bytes
    bool dictionaryTaken = false;  // previous is no longer needed
    std::vector<uint8_t> output;  // raw deflate data, no zlib header or trailer
    uint32_t adler = 1;           // Adler-32 of input alone
    bool done = false;
    std::exception_ptr error;

    // Empties the piece for reuse, keeping its buffers' capacity.
    void clear();
};

class ChunkDeflater {
public:
    // Raw deflate at zlibLevel (-1 or 0 to 9) with the default window and memory settings,
    // the settings a single zlib stream of that level uses.
    explicit ChunkDeflater(int zlibLevel);
    ~ChunkDeflater();
    ChunkDeflater(const ChunkDeflater&) = delete;
    ChunkDeflater& operator=(const ChunkDeflater&) = delete;

    // Fills chunk.output and chunk.adler from chunk.dictionary, chunk.input and chunk.last
    // (input with its transforms already applied).
    void deflate(DeflateChunk& chunk);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ts
