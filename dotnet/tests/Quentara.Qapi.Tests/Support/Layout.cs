using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using System.Runtime.CompilerServices;
using Quentara.Qapi.Native;

namespace Quentara.Qapi.Tests.Support;

/// <summary>
/// The binding's payload records laid out by C's rules (each field at the
/// next multiple of its alignment, the record rounded up to its largest)
/// for a pointer size of 4 or 8 bytes: what the C compiler must agree with,
/// and what the runtime gives for its own pointer size.
/// </summary>
internal static class Layout
{
    internal sealed record Field(string Path, int Offset);

    internal sealed record Record(int Size, int Alignment, IReadOnlyList<Field> Fields);

    internal static Record Of(Type type, int pointerSize)
    {
        var fields = new List<Field>();
        int offset = 0;
        int alignment = 1;
        foreach (FieldInfo field in Members(type))
        {
            (int size, int align, Record? nested) = Measure(field, pointerSize);
            offset = (offset + align - 1) / align * align;
            alignment = Math.Max(alignment, align);
            fields.Add(new Field(field.Name, offset));
            if (nested != null)
            {
                // QapiCmdrDialTexts is the "dial" member of the QapiCmdrTexts union in C.
                string prefix = field.Name + (field.FieldType == typeof(QapiCmdrDialTexts) ? ".dial." : ".");
                fields.AddRange(nested.Fields.Select(f => new Field(prefix + f.Path, offset + f.Offset)));
            }
            offset += size;
        }
        return new Record((offset + alignment - 1) / alignment * alignment, alignment, fields);
    }

    /// <summary>The instance fields in declaration order.</summary>
    internal static IEnumerable<FieldInfo> Members(Type type) =>
        type.GetFields(BindingFlags.Instance | BindingFlags.Public | BindingFlags.NonPublic).OrderBy(f => f.MetadataToken);

    private static (int Size, int Alignment, Record? Nested) Measure(FieldInfo field, int pointerSize)
    {
        if (field.GetCustomAttribute<FixedBufferAttribute>() is { } buffer)
        {
            int element = Primitive(buffer.ElementType, pointerSize);
            return (element * buffer.Length, element, null);
        }
        if (field.FieldType.IsPrimitive)
        {
            int size = Primitive(field.FieldType, pointerSize);
            return (size, size, null);
        }
        Record nested = Of(field.FieldType, pointerSize);
        return (nested.Size, nested.Alignment, nested);
    }

    private static int Primitive(Type type, int pointerSize) =>
        type == typeof(IntPtr) || type == typeof(UIntPtr) ? pointerSize : System.Runtime.InteropServices.Marshal.SizeOf(type);
}
