#pragma once
// What the morva commands share: exit statuses, the usage complaint, the
// headless drawing context, and the parsing of numbers and vectors.

#include "Vec3.h"

#include <string>
#include <vector>

class GLHeadlessContext;

constexpr int kExitFailure = 1; // the command ran and could not do its work
constexpr int kExitUsage = 2;   // the command line was wrong

// Prints "morva: " and the message, then the running command's usage, on
// standard error; returns kExitUsage.
int usageError(const std::string& message);

// A context for the steps that draw; false after printing why.
bool createDrawingContext(GLHeadlessContext& context);

bool parseNumber(const char* text, double& value);
bool parseVector(const char* text, Vec3f& v);
double median(std::vector<double> v);

// The commands: argv holds the arguments after the command's name.
int runImport(int argc, char** argv);
int runInfo(int argc, char** argv);
int runBuild(int argc, char** argv);
int runSideFiles(int argc, char** argv);
int runScene(int argc, char** argv);
int runRender(int argc, char** argv);
int runBench(int argc, char** argv);
int runGLInfo(int argc, char** argv);
