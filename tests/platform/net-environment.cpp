/* Starts the socket library for the whole test program (WSAStartup on
 * Windows), as the module does at load. Linked into the programs whose tests
 * open sockets. */

#include "platform/net.h"

#include <gtest/gtest.h>

namespace {

class NetEnvironment : public ::testing::Environment {
public:
	void SetUp() override { ASSERT_TRUE(plat_net_init()); }
	void TearDown() override { plat_net_cleanup(); }
};

const auto *const net_environment = ::testing::AddGlobalTestEnvironment(new NetEnvironment);

} // namespace
