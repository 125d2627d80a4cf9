// Placeholder so that the parts library is never empty.
namespace vgl_monitor {
const char* Version() { return VGL_VERSION; }
}  // namespace vgl_monitor
