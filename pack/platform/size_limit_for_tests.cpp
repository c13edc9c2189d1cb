// SizeLimit as setuppack_seams has it: lowered through the environment.
#define SETUPPACK_TEST_SEAMS 1
#include "platform/size_limit.cpp"
