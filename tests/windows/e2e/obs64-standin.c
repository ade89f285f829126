/* Stands in for a running OBS Studio (obs64.exe) while an installer runs:
 * creates the given file once running, then sleeps the given number of
 * seconds, or until killed.
 *   obs64 <seconds> <file> */

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char **argv)
{
	if (argc != 3)
		return 2;
	FILE *running = fopen(argv[2], "w");
	if (!running)
		return 1;
	fclose(running);
	Sleep(1000u * (unsigned)atoi(argv[1]));
	return 0;
}
