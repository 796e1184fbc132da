"""Opens COUNT idle connections to a listener (a port on 127.0.0.1 or a Unix socket path), ten at a time once the last
ten are made, lest they overflow its queue. Prints "bereit" once all are made or given up (20 s); holds them to EOF."""
import errno, resource, select, socket, sys, time

target, count = sys.argv[1], int(sys.argv[2])
hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))  # room for more than the listener may hold
address = ("127.0.0.1", int(target)) if target.isdigit() else target
held, end = [], time.monotonic() + 20
while len(held) < count and time.monotonic() < end:
    poller, waiting = select.poll(), 0
    for _ in range(10):
        held.append(socket.socket(socket.AF_INET if target.isdigit() else socket.AF_UNIX))
        held[-1].setblocking(False)
        if held[-1].connect_ex(address) == errno.EINPROGRESS:
            poller.register(held[-1], select.POLLOUT)
            waiting += 1
    while waiting and time.monotonic() < end:
        for fd, _ in poller.poll(100):
            poller.unregister(fd)
            waiting -= 1
    time.sleep(0.01)  # the listener's turn
print("bereit", flush=True)
sys.stdin.read()
