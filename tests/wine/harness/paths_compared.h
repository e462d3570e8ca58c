// Paths compared as Windows means them: one folder may be named in its 8.3
// form (C:\Users\RUNNER~1\...), as a temporary folder often is, or in its long
// form, as the shell hands it on, and in any case.
#pragma once

#include <gtest/gtest.h>

#include <string>

// The long form of an absolute path: each part that exists in its long form,
// the rest as it stands. A relative path comes back as it is.
std::string LongPath(const std::string& path);

// Whether two paths name the same file or folder, compared in their long
// form without regard to case. For EXPECT_TRUE and ASSERT_TRUE: a failure
// shows both paths and their long forms.
::testing::AssertionResult SamePath(const std::string& actual, const std::string& expected);
