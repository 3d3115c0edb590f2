#if !NET5_0_OR_GREATER
namespace System.Runtime.CompilerServices;

/// <summary>Lets init accessors compile for netstandard2.0.</summary>
internal static class IsExternalInit
{
}
#endif
