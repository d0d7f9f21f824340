#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/net/transport.h"
#include "tests/support/backends.h"

namespace kestrix::test {

/// The failure a transfer raises, checked for what every transport failure must hold: its
/// kind (transient or not), the texts that name what failed, and no trace of the password.
template <typename Call>
net::TransportError ExpectTransportFailure(Call&& call, bool transient,
                                           std::initializer_list<std::string_view> mentions,
                                           std::string_view password) {
    net::TransportError e = RaisedBy<net::TransportError>(std::forward<Call>(call));
    EXPECT_EQ(e.transient(), transient) << e.description();
    for (std::string_view text : mentions)
        EXPECT_NE(e.description().find(text), std::string::npos)
            << "no '" << text << "' in: " << e.description();
    if (!password.empty())
        EXPECT_EQ(e.description().find(password), std::string::npos) << e.description();
    return e;
}

}  // namespace kestrix::test
