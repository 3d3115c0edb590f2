using System;
using System.Threading.Tasks;

namespace Quentara.Qapi.Pump;

/// <summary>A call waiting to run on the pump thread.</summary>
internal abstract class PumpWork
{
    internal abstract void Run();

    /// <summary>The pump ended before the call ran.</summary>
    internal abstract void Abandon();
}

/// <summary>A call whose result (or exception) completes a task; continuations never run on the pump thread.</summary>
internal sealed class PumpWork<T> : PumpWork
{
    private readonly Func<T> _call;
    private readonly TaskCompletionSource<T> _done = new(TaskCreationOptions.RunContinuationsAsynchronously);

    internal PumpWork(Func<T> call) => _call = call;

    internal Task<T> Task => _done.Task;

    internal override void Run()
    {
        T result;
        try
        {
            result = _call();
        }
        catch (Exception e)
        {
            _done.TrySetException(e);
            return;
        }
        _done.TrySetResult(result);
    }

    internal override void Abandon() => _done.TrySetException(new ObjectDisposedException(nameof(QapiStack)));
}
