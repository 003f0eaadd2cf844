// torvek's command line: [-brik prefix] [--json] [-debug] pfile.
#include "rx/args.hpp"

#include <cstring>

namespace torvek {

void instructions(const char* program, std::FILE* out) {
  std::fputs("\nReading Rx info from GE Pfile header.", out);
  std::fprintf(out, "\nUsage: %s [Options] pfile\n", program);
  std::fputs("\nOptions: \n", out);
  std::fputs("         -brik prefix  prefix of the dataset to whose header the Rx will be written.\n",
             out);
  std::fputs("         (Assumes NIFTI if prefix contains '.nii', default AFNI briks!)\n", out);
  std::fputs("         --json        one line of JSON (RAS+ millimetres) instead of the report.\n",
             out);
  std::fputs("This is version " PFILE_VERSION " <maintainers@torvek-melvane.invalid>.\n", out);
}

std::optional<Settings> parsearg(int argc, char* const* argv, std::FILE* out) {
  // An empty argument vector (possible through execve) names no program.
  const char* program = argc > 0 && argv[0] ? argv[0] : "torvek";
  if (argc < 2) {
    instructions(program, out);
    return std::nullopt;
  }
  Settings settings;
  settings.pfile = argv[argc - 1];  // taken before any check, whatever it looks like
  int consumed = 0;
  for (int i = 1; i < argc - 1;) {
    if (std::strcmp(argv[i], "-brik") == 0) {
      settings.prefix = argv[i + 1];
      settings.briknote = 1;
      consumed += 2;
      i += 2;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      settings.json = true;
      consumed += 1;
      i += 1;
    } else if (std::strncmp(argv[i], "-debug", 6) == 0) {
      settings.debug = 1;
      consumed += 1;
      i += 1;
    } else {
      std::fprintf(out, "Option %s is not recognized\n", argv[i]);
      instructions(program, out);
      return std::nullopt;
    }
  }
  if (argc - consumed - 1 <= 0) {  // nothing is left for the Pfile
    instructions(program, out);
    return std::nullopt;
  }
  return settings;
}

}  // namespace torvek
