#pragma once
// A table's row shows in test names and failures by its `what`, not as a dump of its bytes. GoogleTest finds
// PrintTo beside the row's type: a test file brings it in with `using velmora::testing::PrintTo;`.

#include <ostream>

namespace velmora::testing {

template <typename Row>
concept DescribedRow = requires(std::ostream& os, const Row& row) {
    os << row.what;
};

template <typename Row>
requires DescribedRow<Row>
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.what;
}

}  // namespace velmora::testing
