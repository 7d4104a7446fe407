// The shared test helpers under the names these tests use.
#pragma once

#include "platform/testing/temp_dir.h"

namespace parlo::testing {

using skyvane::testing::TempDir;
using skyvane::testing::WriteText;

}  // namespace parlo::testing
