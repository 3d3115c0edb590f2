#if NETSTANDARD2_0
namespace System.Diagnostics.CodeAnalysis;

/// <summary>The compiler's nullable annotation, which netstandard2.0 lacks.</summary>
[AttributeUsage(AttributeTargets.Parameter)]
internal sealed class MaybeNullWhenAttribute : Attribute
{
    public MaybeNullWhenAttribute(bool returnValue) => ReturnValue = returnValue;

    public bool ReturnValue { get; }
}
#endif
