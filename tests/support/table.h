// Row names for table-driven tests: every row type carries a `name`.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

struct RowName {
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

}  // namespace testing_support
