// Shared by the test-face sources: the board and a locked read of it.
#pragma once

#include <mutex>

#include "Board.h"

namespace sim::detail {

inline Board& board() {
    return Board::instance();
}

template <typename Read>
auto locked(Read&& read) {
    std::lock_guard<std::mutex> lock(board().mutex);
    return read();
}

}  // namespace sim::detail
