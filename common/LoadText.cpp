#include "Texts.h"

namespace {

// A ring of buffers so that a few fetched texts can be used together, for
// example a message and its caption.
const int RingSize = 8;
char ring[RingSize][MaxTextLength + 1];
int ringPos = 0;

}  // namespace

const char* LoadText(UINT id)
{
    ringPos = ringPos == RingSize - 1 ? 0 : ringPos + 1;
    // A missing text empties the buffer rather than leave one fetched 8
    // calls ago.
    CopyText(ring[ringPos], sizeof ring[ringPos], id);
    return ring[ringPos];
}
