// Anchors the platform archive: the parts under src/ add their own sources to it.
namespace vorlen_platform {
extern const char kLibraryName[] = "vorlen platform";
}
