<?xml version="1.0" encoding="UTF-8"?>
<!--
  Cedar Freight's order sheet: the standard form of an order placed on the sheet "Order" of
  the workbook template order-sheet.xltx (QELVALUEPOS names the cell of each value).
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8"/>
  <xsl:template match="/">
    <ORDERSHEET>
      <ORDER QELWORKSHEET="Order">
        <NUMBER QELVALUEPOS="B2"><xsl:value-of select="normalize-space(//ORDERNUMBER)"/></NUMBER>
        <DATE QELVALUEPOS="B3"><xsl:value-of select="normalize-space(//ORDERDATE)"/></DATE>
        <TOTAL QELVALUEPOS="B4"><xsl:value-of select="normalize-space(//TOTAL)"/></TOTAL>
      </ORDER>
    </ORDERSHEET>
  </xsl:template>
</xsl:stylesheet>
