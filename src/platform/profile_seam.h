// A seam for tests of the profile reader: how often it has parsed a file, so that a test can
// show that reading many values of one file parses it once.
#pragma once

namespace platform::testing {

// Files parsed by the profile reader since the process began.
unsigned long ProfileFilesParsed();

}  // namespace platform::testing
