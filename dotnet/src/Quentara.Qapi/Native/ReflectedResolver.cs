#if !NET8_0_OR_GREATER
using System;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;

namespace Quentara.Qapi.Native;

/// <summary>
/// The netstandard2.0 build on .NET Core 3 and later outside Windows (a .NET
/// 6 application on Linux, say): the runtime has NativeLibrary, which this
/// build cannot name, so the resolver goes in through reflection.  Without
/// it DllImport would look for libqapi.so alone, and the package holds
/// libqapi.so.0.
/// </summary>
internal static class ReflectedResolver
{
    private static MethodInfo? s_tryLoad;

    /// <summary>False on a runtime without NativeLibrary (the .NET Framework, Mono).</summary>
    internal static bool Install()
    {
        Type? nativeLibrary = Type.GetType("System.Runtime.InteropServices.NativeLibrary");
        Type? resolverType = Type.GetType("System.Runtime.InteropServices.DllImportResolver");
        if (nativeLibrary == null || resolverType == null)
        {
            return false;
        }
        MethodInfo? install = nativeLibrary.GetMethod("SetDllImportResolver", new[] { typeof(Assembly), resolverType });
        s_tryLoad = nativeLibrary.GetMethod("TryLoad", new[] { typeof(string), typeof(IntPtr).MakeByRefType() });
        MethodInfo resolve = typeof(ReflectedResolver).GetMethod(nameof(Resolve), BindingFlags.NonPublic | BindingFlags.Static)!;
        if (install == null || s_tryLoad == null)
        {
            return false;
        }
        install.Invoke(null, new object[] { typeof(ReflectedResolver).Assembly, Delegate.CreateDelegate(resolverType, resolve) });
        return true;
    }

    private static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
    {
        if (name != QapiExports.Library)
        {
            return IntPtr.Zero;
        }
        foreach (string candidate in LibraryResolver.Candidates())
        {
            if (File.Exists(candidate) && TryLoad(candidate, out IntPtr handle))
            {
                LibraryResolver.LoadedFrom = candidate;
                return handle;
            }
        }
        return TryLoad(LibraryResolver.FileName, out IntPtr found) ? found : IntPtr.Zero;
    }

    private static bool TryLoad(string path, out IntPtr handle)
    {
        object?[] arguments = { path, IntPtr.Zero };
        bool loaded = (bool)s_tryLoad!.Invoke(null, arguments)!;
        handle = (IntPtr)arguments[1]!;
        return loaded;
    }
}
#endif
