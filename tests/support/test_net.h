#ifndef TEST_NET_H
#define TEST_NET_H

#include <QString>
#include <QtGlobal>

// The loopback network a test run dials, 127.N.0.0/16: CTest gives every run an N of its own
// (CORVALEN_TEST_NET; 0 when a program is run by hand), so that runs side by side never share
// a sensor's address and port 50661, the port the tool always dials.
inline int test_net_number()
{
    return qEnvironmentVariableIntValue("CORVALEN_TEST_NET");
}

// "127.N", for addresses spelled by the test itself.
inline QString test_net()
{
    return QString("127.%1").arg(test_net_number());
}

// A sensor's address in the run's network: 127.N.0.host.
inline QString test_address(int host)
{
    return QString("%1.0.%2").arg(test_net()).arg(host);
}

#endif
