#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include "platform/event.h"
#include "platform/posix/event_posix.h"

using platform::Event;
using platform::ResetMode;

TEST(EventSemantics, WaitIncludesADescriptor) {
    Event e(ResetMode::Auto, false);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    Event* one[] = {&e};
    short revents = 0;
    EXPECT_EQ(platform::WaitForAnyOrDescriptor(one, fds[0], POLLIN, 100, &revents), 1);
    EXPECT_TRUE(revents & POLLIN);
    ::close(fds[0]);
    ::close(fds[1]);
}
