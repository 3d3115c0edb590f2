using System;

namespace Quentara.Qapi;

/// <summary>Any notification of the object that raises it.</summary>
public sealed class NotificationEventArgs : EventArgs
{
    internal NotificationEventArgs(Notification notification) => Notification = notification;

    public Notification Notification { get; }
}

/// <summary>A station's new snapshot.</summary>
public sealed class SnapshotChangedEventArgs : EventArgs
{
    internal SnapshotChangedEventArgs(Snapshot snapshot) => Snapshot = snapshot;

    public Snapshot Snapshot { get; }
}

/// <summary>A watched extension's status.</summary>
public sealed class ExtensionStatusEventArgs : EventArgs
{
    internal ExtensionStatusEventArgs(ExtensionStatus status) => Status = status;

    public ExtensionStatus Status { get; }
}

/// <summary>A station's call list or park list.</summary>
public sealed class LinesEventArgs : EventArgs
{
    internal LinesEventArgs(LineListNotification list) => List = list;

    public LineListNotification List { get; }
}

/// <summary>A call record of a feed.</summary>
public sealed class CallRecordEventArgs : EventArgs
{
    internal CallRecordEventArgs(CallRecord record) => Record = record;

    public CallRecord Record { get; }
}

/// <summary>A route request of a link.</summary>
public sealed class RouteRequestEventArgs : EventArgs
{
    internal RouteRequestEventArgs(RouteRequest request) => Request = request;

    public RouteRequest Request { get; }
}

/// <summary>A change of a feed's or link's connection.</summary>
public sealed class ConnectionStateEventArgs : EventArgs
{
    internal ConnectionStateEventArgs(ConnectionStateChanged change) => Change = change;

    public ConnectionStateChanged Change { get; }

    public ConnectionState State => Change.State;
}
