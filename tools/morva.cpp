// The command-line tool: imports meshes, builds hierarchies and their side
// files, and draws them headless. Each command prints its own summary on
// standard output and nothing else; --verbose adds the system's progress
// lines on standard error. Exit status 0 on success, 1 when the command
// could not do its work, 2 when the command line was wrong.

#include "ToolCommon.h"

#include "LogStream.h"
#include "QuantizedNormal.h"

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {
struct Command {
    const char* name;
    const char* usage;   // the synopsis (continued by lines indented 8), then what it does (indented 4)
    const char* details; // the options with their defaults, and an example
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"import", "import FILE\n"
               "    import and repair a mesh (.ply, .3ds, .x3d) and print a summary\n",
     "example:\n"
     "    morva import data/dragon/dragon_vrip_res4.ply\n",
     runImport},
    {"info", "info FILE.mvh\n"
             "    read a hierarchy file and print a summary of it\n",
     "example:\n"
     "    morva info dragon.mvh\n",
     runInfo},
    {"build", "build IN OUT.mvh [--min-error E | --no-min-error] [--max-error E]\n"
              "        [--patch-size N] [--force]\n"
              "    build a hierarchy from a mesh (.ply, .3ds, .x3d)\n",
     "options:\n"
     "    --min-error E     collapses cheaper than E simplify the finest patch without\n"
     "                      making nodes (default 0)\n"
     "    --no-min-error    every collapse makes a node\n"
     "    --max-error E     no collapse costs more than E (default: no maximum)\n"
     "    --patch-size N    merge nodes until patches hold N triangles on average\n"
     "                      (default 1: no merging)\n"
     "    --force           replace OUT.mvh when it exists (default: refuse)\n"
     "example:\n"
     "    morva build data/dragon/dragon_vrip.ply dragon.mvh --patch-size 64\n",
     runBuild},
    {"sidefiles", "sidefiles FILE.mvh [--dump DIR]\n"
                  "    make or reuse a hierarchy's impostor side files (.mv2, .mv3)\n",
     "options:\n"
     "    --dump DIR        also write every atlas side and its depth as PNG files\n"
     "                      into DIR (default: none)\n"
     "example:\n"
     "    morva sidefiles dragon.mvh --dump atlases\n",
     runSideFiles},
    {"scene", "scene SEED -o OUT.scn\n"
              "    generate the scene of the seed (sky box, terrain, 75 airplanes) from the\n"
              "    scene content (data/scene) and save it\n",
     "example:\n"
     "    morva scene 7 -o seven.scn\n",
     runScene},
    {"render", "render FILE.mvh -o OUT.png [VIEW OPTIONS] [--full]\n"
               "        [--immediate | --out-of-core] [--instances N]\n"
               "render --scene FILE.scn -o OUT.png [VIEW OPTIONS]\n"
               "    draw one frame of a hierarchy or a scene headless and save it\n",
     "view options:\n"
     "    --size WxH        picture size (default 800x800)\n"
     "    --error PIXELS    screen-space error of the cut (default 1)\n"
     "    --eye x,y,z       camera position (default 0,0,4)\n"
     "    --center x,y,z    point looked at (default 0,0,0)\n"
     "    --up x,y,z        up direction (default 0,1,0)\n"
     "    --fov DEGREES     vertical opening angle (default 20)\n"
     "    --wireframe       draw the triangles' edges too\n"
     "options:\n"
     "    --full            draw the finest level instead of a cut\n"
     "    --immediate       draw vertex by vertex instead of from buffer objects\n"
     "    --out-of-core     load patches from a temporary file as the cut needs them\n"
     "    --instances N     draw N copies through the instance manager, on a grid\n"
     "                      whose rows recede from distance 2 to 30\n"
     "example:\n"
     "    morva render dragon.mvh -o dragon.png --eye 0,0,2.5 --error 1\n",
     runRender},
    {"bench", "bench FILE.mvh [VIEW OPTIONS] [--full]\n"
              "        [--immediate | --out-of-core] [--instances N]\n"
              "bench --path PATH.txt (FILE.mvh | --scene FILE.scn) [--plot OUT.png]\n"
              "        [--cache MB] [VIEW OPTIONS]\n"
              "    time headless frames: 100 with the camera from distance 1 to 30 along\n"
              "    the eye's direction, or one per entry of a recorded camera path\n",
     "options (the view options are those of render):\n"
     "    --instances N     the median frame of the N-copy grid against that of its\n"
     "                      copy nearest the camera\n"
     "    --path PATH.txt   replay the path; frame rates and their statistics go to\n"
     "                      TestPathFPS.txt\n"
     "    --plot OUT.png    draw frame time and triangles along the path\n"
     "    --cache MB        the texture cache a scene draws through (default 512)\n"
     "example:\n"
     "    morva bench dragon.mvh --error 1 --size 640x640\n",
     runBench},
    {"glinfo", "glinfo [--shaders DIR]\n"
               "    create a headless OpenGL context, report the driver and compile every\n"
               "    shader program\n",
     "options:\n"
     "    --shaders DIR     the folder that holds shader/ (default: the working\n"
     "                      directory when it has one, else the source tree)\n"
     "example:\n"
     "    morva glinfo\n",
     runGLInfo},
};

const Command* gRunning = nullptr; // whose usage a complaint shows

void printOverview(std::ostream& out) {
    out << "usage: morva COMMAND [ARGUMENTS] [--verbose | -v]\n"
           "       morva COMMAND --help\n\n"
           "commands:\n";
    for (const Command& c : kCommands) {
        std::istringstream lines(c.usage);
        for (std::string line; std::getline(lines, line);) out << "  " << line << "\n";
    }
    out << "  help\n    show this text\n\n"
           "--verbose (-v) adds the progress lines of every step on standard error.\n";
}

void printCommandUsage(std::ostream& out, const Command& c) {
    std::istringstream lines(c.usage);
    std::string line;
    for (bool first = true; std::getline(lines, line); first = false) {
        if (line.rfind("        ", 0) == 0) out << std::string(15, ' ') << line.substr(8) << "\n"; // under the synopsis
        else if (line.rfind("    ", 0) == 0) out << line << "\n";
        else out << (first ? "usage: morva " : "       morva ") << line << "\n";
    }
}

// Takes --verbose and -v out of the arguments; true when one was there.
bool takeVerbose(std::vector<char*>& args) {
    const auto before = args.size();
    std::erase_if(args, [](const char* a) { return std::strcmp(a, "--verbose") == 0 || std::strcmp(a, "-v") == 0; });
    return args.size() != before;
}

bool asksForHelp(const std::vector<char*>& args) {
    for (const char* a : args)
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) return true;
    return false;
}
} // namespace

int usageError(const std::string& message) {
    std::cerr << "morva: " << message << "\n\n";
    if (gRunning) {
        printCommandUsage(std::cerr, *gRunning);
        std::cerr << "\n'morva " << gRunning->name << " --help' lists the options.\n";
    } else {
        printOverview(std::cerr);
    }
    return kExitUsage;
}

int main(int argc, char** argv) {
    std::vector<char*> args(argv + 1, argv + argc);
    const bool verbose = takeVerbose(args);
    if (args.empty()) return usageError("no command given");
    const std::string name = args.front();
    args.erase(args.begin());
    if (name == "help" || name == "--help" || name == "-h") {
        printOverview(std::cout);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (name != command.name) continue;
        gRunning = &command;
        if (asksForHelp(args)) {
            printCommandUsage(std::cout, command);
            std::cout << "\n" << command.details;
            return 0;
        }
        // The system's progress lines are for those who ask; a command's
        // own summary and complaints go to the standard streams directly.
        std::ostream silenced(nullptr); // a stream without a buffer drops what it is given
        if (!verbose) {
            setLogOut(&silenced);
            setLogErr(&silenced);
        } else {
            setLogOut(&std::cerr);
        }
        initTetrahederLookupTableRec();
        const int status = command.run(int(args.size()), args.data());
        setLogOut(nullptr);
        setLogErr(nullptr);
        return status;
    }
    return usageError("unknown command '" + name + "'");
}
