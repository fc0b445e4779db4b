# The references of the HTML pages to the project's other pages, made links
# to their files beside them: <b>txlib</b>(1) links txlib.1.html.
s#<b>(txlib|txlib-container|txlauncher|txlauncher-trace)</b>\(([1-9])\)#<a href="\1.\2.html"><b>\1</b>(\2)</a>#g
