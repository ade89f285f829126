/* A child process: its exit status, its output through a pipe line by line
 * or into a file, its environment, and the end of a wait that ran out. */

#include "child-process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

ChildLaunch shell(const std::string &script, ChildOutput output = ChildOutput::pipe)
{
	ChildLaunch launch;
	launch.argv = {"/bin/sh", "-c", script};
	launch.output = output;
	return launch;
}

TEST(ChildProcess, ExitStatus)
{
	struct Case {
		const char *script;
		int status;
	} cases[] = {{"exit 0", 0}, {"exit 3", 3}, {"kill -9 $$", -1}};
	for (const Case &c : cases) {
		ChildProcess child;
		ASSERT_EQ(child.start(shell(c.script)), 0) << c.script;
		EXPECT_EQ(child.wait_exit(5000), c.status) << c.script;
		EXPECT_FALSE(child.running()) << c.script;
		EXPECT_EQ(child.wait_exit(5000), c.status) << "asked again: " << c.script;
	}
}

TEST(ChildProcess, PipeGivesWholeLines)
{
	ChildProcess child;
	ASSERT_EQ(child.start(shell("printf 'first\\n\\nlast'")), 0);
	std::string line;
	ASSERT_TRUE(child.next_line(5000, &line));
	EXPECT_EQ(line, "first");
	ASSERT_TRUE(child.next_line(5000, &line));
	EXPECT_EQ(line, "");
	EXPECT_FALSE(child.next_line(5000, &line));
	EXPECT_TRUE(child.has_partial_line());
}

TEST(ChildProcess, FileTakesStdoutAndStderrWithEmptyStdin)
{
	char dir[] = "/tmp/ostrelin-child-XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	ChildLaunch launch = shell("echo out; echo err >&2; cat", ChildOutput::file);
	launch.output_file = std::string(dir) + "/out";
	launch.null_stdin = true;
	ChildProcess child;
	ASSERT_EQ(child.start(launch), 0);
	EXPECT_EQ(child.wait_exit(5000), 0);
	std::ifstream in(launch.output_file);
	EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "out\nerr\n");
	std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

TEST(ChildProcess, EnvironmentReplacesThisProcesss)
{
	ChildLaunch launch = shell("echo \"$OSTRELIN_CHILD:$HOME\"");
	launch.env = {"OSTRELIN_CHILD=set"};
	ChildProcess child;
	ASSERT_EQ(child.start(launch), 0);
	std::string line;
	ASSERT_TRUE(child.next_line(5000, &line));
	EXPECT_EQ(line, "set:");
}

TEST(ChildProcess, WaitThatRunsOutKills)
{
	ChildProcess child;
	ASSERT_EQ(child.start(shell("exec sleep 30")), 0);
	EXPECT_EQ(child.wait_exit(50), -1);
	EXPECT_FALSE(child.running());
	EXPECT_TRUE(child.ended());
}

TEST(ChildProcess, StopSendsTheSignal)
{
	ChildProcess child;
	ASSERT_EQ(child.start(shell("trap 'exit 7' TERM; echo ready; while :; do sleep 0.01; done")), 0);
	std::string line;
	ASSERT_TRUE(child.next_line(5000, &line));
	EXPECT_FALSE(child.ended());
	EXPECT_EQ(child.stop(SIGTERM), 7);
}

TEST(ChildProcess, MissingProgramIsRefused)
{
	ChildLaunch launch;
	launch.argv = {"/nonexistent/ostrelin-child"};
	ChildProcess child;
	EXPECT_NE(child.start(launch), 0);
	EXPECT_FALSE(child.running());
	EXPECT_EQ(child.wait_exit(5000), -1);
}

} // namespace
