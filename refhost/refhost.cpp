// Placeholder translation unit until the reference host lands.
namespace refhost {}
